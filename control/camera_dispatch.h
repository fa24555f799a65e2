// The viewer's camera vocabulary: one JSON command text in, packets out.
#pragma once

#include <cstddef>

void camera_command_dispatch(const char* text, size_t length);
