// RC sticks, knobs and switches (values from the rcin process through the
// HudBlock) turned into camera and gimbal commands every 20 ms.
#pragma once

void* rc_controller(void*);
