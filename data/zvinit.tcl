# zvinit.tcl — read into every world's interpreter before its scripts.
# Scripts written for the browser rely on these names; the browser checks
# zvVersion and calls zvTclerror, zvTkSuspend and zvTkResume.

set zvVersion 1.04
set zvTrue 1
set zvFalse 0

# Script types (zvAddEventHandler, zvAddTimeOutHandler). Type 4 is the
# browser's own and is refused from a script.
set zvScriptPython 0
set zvScriptTcl 1
set zvScriptJava 2
set zvScriptVB 3
set zvScriptInline 5

# Task types.
set zvTaskSporadic 0
set zvTaskPeriodic 1

# Event bits, by the names a world file uses (zvEvent(LEFT_BUTTON_DOWN))
# and as plain variables (zvLeftButtonDown).
foreach {name bit variable} {
    KEY_DOWN           0x1      zvKeyDown
    KEY_UP             0x2      zvKeyUp
    COLLISION          0x4      zvCollision
    LEFT_BUTTON_UP     0x8      zvLeftButtonUp
    LEFT_BUTTON_DOWN   0x10     zvLeftButtonDown
    MIDDLE_BUTTON_UP   0x20     zvMiddleButtonUp
    MIDDLE_BUTTON_DOWN 0x40     zvMiddleButtonDown
    RIGHT_BUTTON_UP    0x80     zvRightButtonUp
    RIGHT_BUTTON_DOWN  0x100    zvRightButtonDown
    WORLD_IN           0x200    zvWorldIn
    WORLD_OUT          0x400    zvWorldOut
    CREATE_NOTIFY      0x800    zvCreateNotify
    DELETE_NOTIFY      0x1000   zvDeleteNotify
    TIME_OUT           0x2000   zvTimeOut
    FRAME              0x4000   zvFrame
    DRAG               0x8000   zvDrag
    PICK               0x10000  zvPick
    GRAB               0x20000  zvGrab
    RELEASE            0x40000  zvRelease
    CREATE_WORLD       0x80000  zvCreateWorld
    DELETE_WORLD       0x200000 zvDeleteWorld
} {
    set zvEvent($name) [expr {$bit}]
    set $variable [expr {$bit}]
}
set zvEvent(KEY) [expr {$zvKeyDown | $zvKeyUp}]
set zvEvent(BUTTON_UP) [expr {$zvLeftButtonUp | $zvMiddleButtonUp | $zvRightButtonUp}]
set zvEvent(BUTTON_DOWN) [expr {$zvLeftButtonDown | $zvMiddleButtonDown | $zvRightButtonDown}]
set zvEvent(BUTTON) [expr {$zvEvent(BUTTON_UP) | $zvEvent(BUTTON_DOWN)}]

# Modifier bits and key codes of key events.
set zvShift 1
set zvControl 4
set zvAlt 8
set zvKeyCodeUp 0x48
set zvKeyCodeDown 0x49
set zvKeyCodeLeft 0x4A
set zvKeyCodeRight 0x4B
set zvKeyCodeEscape 0x45
set zvKeyCodeAlt 0x46
set zvKeyCodeOther 0x4C

# Material attributes (zvSetObjMaterial and its kin): 1 to 4 colours,
# 5 and 6 floats.
set zvAmbientColor 1
set zvDiffuseColor 2
set zvSpecularColor 3
set zvEmissiveColor 4
set zvShininess 5
set zvTransparency 6

# Object attributes (zvGetObjAttribute, zvSetObjAttribute).
set zvObjAttrNodeType 3
set zvObjAttrName 4
set zvObjAttrString 5
set zvObjAttrComment 6
set zvObjAttrHasBoundingCube 8
set zvObjAttrBoundingCubeValid 9
set zvObjAttrParentBoundingCubeValid 10
set zvObjAttrWRTValid 11
set zvObjAttrVisible 12
set zvObjAttrGrasp 13
set zvObjAttrSolid 14
set zvObjAttrCollision 15
set zvObjAttrMobile 16

# Light attributes.
set zvLightAttrOn 0
set zvLightAttrIntensity 1
set zvLightAttrColor 2
set zvLightAttrLocation 3
set zvLightAttrDirection 4
set zvLightAttrDropOffRate 5
set zvLightAttrCutOffAngle 6

# Camera attributes.
set zvCameraAttrPosition 0
set zvCameraAttrLookAt 1
set zvCameraAttrFocalDistance 2
set zvCameraAttrHeight 3
set zvCameraAttrHeightAngle 4
set zvCameraAttrBackgroundColor 5
set zvCameraAttrBackgroundTexture 6

# Coordinate systems and transfer modes of the transform commands.
set zvCoordOwn 0
set zvCoordWorld 1
set zvCoordParent 2
set zvTransferSet 0
set zvTransferCompose 1

# A script error: shown in the Messages window, the world goes on.
proc zvTclerror {message} {
    zvMessage $message
}

# The world's Tk windows while the world is not shown: the ones on screen
# are withdrawn, and only those come back.
proc zvTkSuspend {} {
    global zvTkShown
    set zvTkShown {}
    foreach w [wm stackorder .] {
        lappend zvTkShown $w
        wm withdraw $w
    }
}

proc zvTkResume {} {
    global zvTkShown
    if {![info exists zvTkShown]} return
    foreach w $zvTkShown {
        if {[winfo exists $w]} { wm deiconify $w }
    }
    set zvTkShown {}
}

# The interpreter starts without Tcl's own library scripts, and the min and
# max functions of expr are stubs that would load them.
proc ::tcl::mathfunc::max {x args} {
    foreach y $args { if {$y > $x} { set x $y } }
    return $x
}
proc ::tcl::mathfunc::min {x args} {
    foreach y $args { if {$y < $x} { set x $y } }
    return $x
}
