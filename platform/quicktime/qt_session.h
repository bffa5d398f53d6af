// The QuickTime layer's process-wide state: whether a reader has set it up.
#pragma once

namespace kav::qt {

// Called by every open: sets the layer up the first time. False when it
// cannot be (never, for our own reader; kept so opens read like the rest).
bool connect();
bool connected();

}  // namespace kav::qt
