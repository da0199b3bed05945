* A two-stage lattice filter assembled from subcircuits.
*
* "stage" is one unbalanced Mach-Zehnder stage between two directional couplers,
* its lower arm as long as the stage's "delay" parameter;
* "lattice" chains two such stages and puts grating couplers on the outer
* ports; the stages' other outer ports stay open, as ports of the lattice.
* Subcircuits are used as instances like any other
* component: their terminals take the subcircuit's declared ports in order.
* Widths and lengths may be written in metres (with the "u" suffix); they are
* converted to micrometres.

.subckt stage in1 in2 out1 out2 delay=20
Xcp_in  in1 in2 up_a lo_a coupler length=10 gap=0.2u       $ location=(0,0,0)
Xarm_up up_a up_b straight length=40 width=0.5u            $ location=(20,2,0)
Xarm_lo lo_b lo_a straight length='delay'                  $ location=(20,-2,0)
Xcp_out up_b lo_b out2 out1 coupler length=10 gap=0.2u     $ location=(70,0,0)
.ends

.subckt lattice optical_in optical_out unused_in unused_out
Xgc_in  g_in optical_in grating_coupler                   $ location=((o2)(-40,0,0))
Xs1     g_in  unused_in  m1 m2 stage                      $ location=(0,0,0)
Xs2     m1 m2 g_out unused_out stage                      $ location=(100,0,0)
Xgc_out g_out optical_out grating_coupler                 $ location=(o2)(240,0,180)
.ends
