* All-pass ring resonator of the generic PDK's cells.
*
* A directional coupler (o1, o2 on its west side, o3, o4 on its east side)
* couples the bus waveguide (o1 -> o4) to a ring closed from its o3 back to
* its o2 through four 90 degree Euler bends and two straight sections.
* The ring's radius and the length of its straight sections are parameters
* of the subcircuit; the elements pick them up in single quotes.
.subckt ring_filter in through radius=10 gap_length=4
Xcp in ring_a ring_b through coupler length=4 gap=0.2     $ location=(0,0,0)
Xb1 ring_b ring_c bend_euler radius='radius'              $ location=(4,0.35,0)
Xs1 ring_c ring_d straight length='gap_length'            $ location=(14,10.35,90)
Xb2 ring_d ring_e bend_euler radius='radius'              $ location=(14,14.35,90)
Xb3 ring_e ring_f bend_euler radius='radius'              $ location=(4,24.35,180)
Xs2 ring_f ring_g straight length='gap_length'            $ location=(-10,14.35,270)
Xb4 ring_g ring_a bend_euler radius='radius'              $ location=(-10,10.35,270)
.ends
