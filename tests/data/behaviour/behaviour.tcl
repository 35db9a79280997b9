# Handlers and tasks of the behaviour test worlds. Attribute numbers:
# material 2 is the diffuse colour, object attribute 12 is visibility;
# coordinate system 2 is the parent's, transfer mode 1 composes.

proc turnGreen {obj args} {
    zvSetObjAllMaterial $obj 2 0 1 0
}

proc turnYellow {obj event data} {
    zvSetObjAllMaterial $obj 2 1 1 0
}

proc slideRight {obj event data} {
    zvTranslate $obj 0.1 0 0 2 1
    return 0
}

# Periodic: hidden at the third run, which also ends the task.
set hideRuns 0
proc hideAtThird {obj args} {
    global hideRuns
    incr hideRuns
    if {$hideRuns < 3} { return 0 }
    zvSetObjAttribute $obj 12 0
    return 1
}

proc turnBlue {obj event data} {
    zvSetObjAllMaterial $obj 2 0 0 1
}

# A key: the cube goes blue and the key's code is kept in the user files.
proc noteKey {obj event data} {
    zvSetObjAllMaterial $obj 2 0 0 1
    set f [open keys.txt a]
    puts $f "[zvGetEventKey $event] $data"
    close $f
}
