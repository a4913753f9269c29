// Names that the server and the console must spell alike: the machine-wide
// objects of one installation (engine/foundation/NamedObject.h) and the
// service.
#pragma once

// The server's single-instance lock.
inline constexpr const char* kServerSingleName = "Tallgrove2EnsureSingle";
// Exists while the server runs; setting it stops the server.
inline constexpr const char* kServerStopEventName = "Tallgrove2stopEvent";
// The interactive console's single-instance lock.
inline constexpr const char* kConsoleSingleName = "Brackmoor2EnsureSingle";
// The service, as the console installs it.
inline constexpr const char* kServiceName = "velmorinServer2";
