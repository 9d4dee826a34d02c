#pragma once

// The host's libraries export only what other binaries call; everything else
// in them is built with hidden visibility.
#define STROVA_EXPORT __attribute__((visibility("default")))
