// Whether KAVAVIInit has run in this process.
#pragma once

namespace kav::avi {
bool aviInitialised();
}
