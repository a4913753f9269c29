// Ports on 127.0.0.1 for tests that start their own peers.
#pragma once

// A port nobody listens on right now (bound, then closed); 0 when none could be had.
int FreeLoopbackPort();
// Whether something accepts connections on the port.
bool LoopbackAccepts(int port);
