// Fields of the shared record owned by the transceiver links.
#pragma once

namespace corvid {

struct TrxState {};

}  // namespace corvid
