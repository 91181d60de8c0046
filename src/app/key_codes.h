#pragma once

#include <Qt>

namespace vorlan {

// The key code the program's key handlers expect: the code of the physical key, as Windows
// numbers them. Main-keyboard digits are 48-57, keypad digits 96-105, letters 65-90,
// Backspace 8, Delete 46, the arrows 37-40, Shift 16; keys without such a code give 0.
int VirtualKeyCode(int qtKey, Qt::KeyboardModifiers modifiers);

}  // namespace vorlan
