# garden.tcl — the birds sing everywhere, quieter than the fountain close by.
proc gardenIn {obj event data} {
    zvSetSoundVolumeByName Birdsong 110
    zvPlayAmbientSoundByName Birdsong 1
}
