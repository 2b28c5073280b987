// The once-a-second key watch: whose disks should be mounted now. Pure; the
// receiver, the mount work and the pipe are behind ServiceOperations.
#pragma once
#include <cstdint>

#include "service/logic/dispatch.h"

namespace kelm::svc {

// True when key is one of the store's UserIds (0 never is).
bool IsKnownUser(const ServiceState& s, std::uint32_t key);

// Fills the UserId table from the store's user key names, in enumeration
// order, at most 50; every other entry becomes 0.
void SetUserIds(ServiceState& s, const std::uint32_t* ids, int count);

// One step, in the mode of s.kw.
void KeyWatchStep(ServiceState& s, ServiceOperations& ops);

// At service stop: end the current user's disks, close the receiver.
void FinalDismount(ServiceState& s, ServiceOperations& ops);

}  // namespace kelm::svc
