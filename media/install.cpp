// install.cpp — one call that connects every media subsystem.
#include "media/media.h"

void zvMediaInstall(void) {
  zvMediaInstallSound();
  zvMediaInstallCharacters();
}
