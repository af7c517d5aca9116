#pragma once
// Reading the text of "netstat -ano | findstr <port>" for one port. findstr
// keeps every line holding the port's digits anywhere (19673 for 9673, a
// remote address, an owner id), so the rows are read exactly here: only TCP
// rows whose local address ends in ":<port>" have a say.
#include <cstdint>
#include <string>
#include <string_view>

namespace starter::port {

// Ports a service may be given: 1024..65535.
bool IsValidStartPort(int port);

// "netstat -ano | findstr " followed by the port's decimal digits.
std::string AvailabilityCommandLine(int port);

// Which question about the Vantic service, if any, settles whether the port is usable.
struct ListingVerdict {
  enum class Ask {
    kNothing,     // no row listens on the port or is connected through it: usable
    kOwner,       // a row listens: usable exactly when its owner is the service
    kAnyService,  // only connections: usable exactly when some service runs
    // Only connections whose state is printed in the system's language: as
    // kAnyService when the system's TCP tables hold an established
    // connection on the port, as kNothing otherwise.
    kConnectionTables,
  };
  Ask ask = Ask::kNothing;
  std::uint32_t owner_id = 0;  // for Ask::kOwner; 0 when the row names no number
};

// The first listening row for `port` decides: its state is LISTENING or its
// foreign address is the wildcard 0.0.0.0:0 or [::]:0, the one a listener
// shows whatever language the states are printed in. Without one, any
// ESTABLISHED row does, then any row with a state word netstat does not print
// in English. Other English states and UDP rows never count. The owner is the
// last column: a translated state may be more than one word.
ListingVerdict JudgeListing(std::string_view listing, int port);

}  // namespace starter::port
