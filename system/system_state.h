// Fields of the shared record owned by the network, update and information services.
#pragma once

namespace corvid {

struct SystemState {};

}  // namespace corvid
