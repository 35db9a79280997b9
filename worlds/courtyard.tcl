# courtyard.tcl — the courtyard's moving things. Handlers are called with
# the object, the event and the user data; tasks with the object and the
# user data's words. Rotations are in radians, in the object's own axes
# (coordinate system 0), added to what the object had (transfer mode 1).

# The door turns about its hinge, five degrees every 40 ms, towards open or
# shut; a click while it moves just turns it back.
set doorAngle 0.0
set doorTarget 0.0
set doorMoving 0
proc doorClick {obj event data} {
    global doorTarget doorMoving
    set doorTarget [expr {$doorTarget == 0.0 ? -1.5708 : 0.0}]
    if {!$doorMoving} {
        set doorMoving 1
        zvAddTimeOutHandler $obj 40 1 "" doorStep "" 1
    }
}
proc doorStep {obj args} {
    global doorAngle doorTarget doorMoving
    set left [expr {$doorTarget - $doorAngle}]
    if {abs($left) < 0.001} {
        set doorMoving 0
        return 1
    }
    set step [expr {$left > 0 ? min(0.0873, $left) : max(-0.0873, $left)}]
    zvRotateAngle $obj 0 $step 0 0 1
    set doorAngle [expr {$doorAngle + $step}]
    return 0
}

# The lamp's bulb glows and goes dark on a periodic task; returning 0
# keeps the task running.
set lampLit 1
proc lampBlink {obj args} {
    global lampLit
    set lampLit [expr {!$lampLit}]
    if {$lampLit} {
        zvSetObjAllMaterial $obj 4 1 0.85 0.3
    } else {
        zvSetObjAllMaterial $obj 4 0.05 0.04 0.02
    }
    return 0
}

# The turntable turns a little on every frame.
proc turntableFrame {obj event data} {
    zvRotateAngle $obj 0 0.03 0 0 1
}

# The sign counts the clicks on it, up to 99 and round again, on two
# switches of digits.
set clicks 0
proc signClick {obj event data} {
    global clicks
    set clicks [expr {($clicks + 1) % 100}]
    zvSwitchObj [zvGetObjByName $obj Tens -r] [expr {$clicks / 10}]
    zvSwitchObj [zvGetObjByName $obj Ones -r] [expr {$clicks % 10}]
}

# The question mark asks its question in a window of its own.
proc askClick {obj event data} {
    zvtkInit
    if {[winfo exists .ask]} {
        wm deiconify .ask
        raise .ask
        return
    }
    toplevel .ask
    wm title .ask "A question from the courtyard"
    label .ask.text -text "Did you find all four moving things?"
    button .ask.yes -text "Yes" -command {destroy .ask}
    button .ask.no -text "Not yet" -command {destroy .ask}
    pack .ask.text -padx 16 -pady 10
    pack .ask.yes .ask.no -side left -expand 1 -pady 10
}
