// The wave-out device's volume, standing in for the system mixer: the client's own output
// gain, two channel values 0..65535 (left, right). The audio output opens and closes the
// device; the mixer of the machine is never touched, so other programs keep their sound.
//
// Any thread; the values are atomics. Without an open device there is no volume control.
#pragma once

#include <cstdint>

// Marks device 0 present (at full volume on first opening) or gone.
void wave_out_set_present(bool present);
bool wave_out_present();
// 0, or -1 when no device is present.
int wave_out_set_volume(uint16_t left, uint16_t right);
int wave_out_get_volume(uint16_t* left, uint16_t* right);
