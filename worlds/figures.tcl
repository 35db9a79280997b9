# figures.tcl — steps the hall's two figures one frame every tick. The
# walker is a stick figure made here from walker.wkn; the dancer came with
# the world, read from dancer.wrl inside the platform, and is found there by
# the name of her root.

set walker ""
set dancer ""
proc stepFigures {obj args} {
    global walker dancer
    if {$walker eq ""} {
        zvDebugFunc zvKinNew walker.wkn walker
        # The walk circles its own origin: move that to the ring's centre,
        # in the parent's frame, on top of what the file placed.
        zvTranslate $walker -1.8 0 -2 2 1
    }
    if {$dancer eq ""} {
        set dancer [zvGetObjByName [zvGetObjByName Platform] dancer_hips -r]
    }
    zvKinNextPosture $walker
    if {$dancer ne "0"} {
        zvKinNextPosture $dancer
    }
    return 0
}
