// netpriv.h — what the client's files share: the connection's senders and
// state for the upcalls, and the upcalls' bookkeeping for the connection.
#pragma once

#include "net/net.h"
#include "scene/scene.h"

// client.cpp
int zvNetSendBytes(const uint8_t* bytes, int size);  // whole or queued; -1 without a connection
uint32_t zvNetChannel(void);
void zvNetSetClientId(uint32_t id);
void zvNetSetMaster(int master);
ZvWorld* zvNetTargetWorld(void);  // the world connected or connecting

// upcalls.cpp: the scene and navigation hooks, and the world's exit
// handler that ends the connection when the world itself goes.
void zvNetInstallHooks(void);
int zvNetWatchWorld(ZvWorld* world);

// commands.cpp: the zvcp… script commands.
void zvNetInstallCommands(void);

// upcalls.cpp: every object the server added to the world is deleted and
// the avatar gives up its identifier. 0, or -1 when one would not go.
int zvNetForgetServerObjects(ZvWorld* world);
