#pragma once
// The pace of a key's requests to its service: the batch's pace file when the environment names
// one (QUILLORY_TIMESTAMP_PACE, as for timestamps), so that every run of a batch sees a throttling
// service at one pace, else one of this process alone. No least gap: only what the service's
// refusals teach slows it.
#include <memory>

#include "authenticode/HostPace.h"

// Throws std::system_error when no pace can be had at all.
std::shared_ptr<THostPace> OpenCloudPace();
