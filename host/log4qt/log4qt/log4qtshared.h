#pragma once

// The facade exports only its public classes; everything else stays hidden.
#define LOG4QT_EXPORT __attribute__((visibility("default")))
