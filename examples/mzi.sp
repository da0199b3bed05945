* Mach-Zehnder interferometer built from the generic PDK's cells.
*
* A 1x2 MMI splits the light into two straight arms of different length and a
* second 1x2 MMI, turned around, recombines them.  Lengths are written in
* micrometres; the comment of each element line places it on the chip.
*
* Read it with:  tessel spice examples/mzi.sp
.subckt mzi in out
Xsplit in top_a bot_a mmi1x2               $ location=(0,0,0)
Xtop   top_a top_b straight length=10      $ location=(15,5,0)
Xbot   bot_a bot_b straight length=30      $ location=(15,-5,0)
Xjoin  out top_b bot_b mmi1x2              $ location=(50,0,180)
.ends
