* Electrical driver of a thermo-optic phase shifter.
*
* A voltage-controlled voltage source amplifies the control voltage by 10
* onto the heater, fed through a series resistor with a filter capacitor.
* Controlled sources are written with their keyword (vcvs, vccs, ccvs, cccs)
* after the output nets; a name after the keyword is the controlling net, a
* number is the gain.
.subckt driver ctrl heater_p heater_n
E1     drive heater_n vcvs ctrl 10
R1     drive filt r=100
C1     filt heater_p c=2p
.ends
