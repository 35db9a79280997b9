# Turns what the handler sits on red, through the whole subtree.
proc paint {obj event data} {
    zvSetObjAllMaterial $obj 2 1 0 0
}
