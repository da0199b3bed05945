// Pausing the cyclic garbage collector while a loop makes many records that
// cannot form cycles: letting it walk the growing result again and again
// costs a third of the time or more.
#pragma once

#include <Python.h>

namespace tessel {

class CollectorPause {
public:
    CollectorPause() : was_enabled_(PyGC_Disable() == 1) {}
    ~CollectorPause() {
        if (was_enabled_) PyGC_Enable();
    }
    CollectorPause(const CollectorPause &) = delete;
    CollectorPause &operator=(const CollectorPause &) = delete;

private:
    bool was_enabled_;
};

}  // namespace tessel
