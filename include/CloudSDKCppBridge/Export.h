#pragma once

// Everything the library builds is hidden unless marked with this macro; the marked names
// are the whole public interface.
#define CLOUDSDK_API __attribute__((visibility("default")))
