#pragma once

#include "runtime/control.h"

// What the converter's windows use of the button control, late-bound: its Enabled property and
// its Click event. The library is loaded at run time, so its headers are not included here.
namespace ZTbuttonBinding {

constexpr rt::DispId Enabled = 0x68030004;
constexpr rt::DispId Click = 1;

} // namespace ZTbuttonBinding
