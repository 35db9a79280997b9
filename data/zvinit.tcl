# zvinit.tcl — read into every world's interpreter before its scripts.
# Scripts written for the browser rely on these names.

set zvVersion 1.04
set zvTrue 1
set zvFalse 0

# A script error: shown in the Messages window, the world goes on.
proc zvTclerror {message} {
    zvMessage $message
}
