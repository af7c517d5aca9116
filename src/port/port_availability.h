#pragma once

namespace starter::port {

// Whether `port` may be given to the Vantic service: nothing listens on it or
// is connected through it, or what holds it is the service itself; a free
// port the system refuses to bind (excluded port ranges) is not. Ports
// outside 1024..65535 are refused.
bool IsPortAvailable(int port);

}  // namespace starter::port
