# cinema.tcl — the projector plays its clip over the whole view; a click on
# the drum stops its film strip or sets it going again, backwards every
# other time.
proc projectorClick {obj event data} {
    zvVideoPlay $data
}
set drumTurns 0
proc drumClick {obj event data} {
    global drumTurns
    zvGet3DMovieInfo $obj frame frames loop
    if {[incr drumTurns] % 2} {
        zvPause3DMovie $obj
        zvMessage "The strip stops at frame [expr {$frame + 1}] of $frames."
    } else {
        zvSet3DMovieSpeed $obj [expr {-[zvGet3DMovieSpeed $obj]}]
        zvPlay3DMovie $obj
    }
}
