#pragma once

// The fixed identity of the button library: its class name and the identifiers of its type
// library, class and interfaces, which hosts store and must not change between builds.
namespace ztbutton {

inline constexpr char ProgId[] = "ZantoXP按扭.ZTbutton";
inline constexpr char ClassId[] = "{6B0C2E31-94D7-4F1A-B3A5-2E8C1D7F4A01}";
inline constexpr char TypeLibId[] = "{6B0C2E30-94D7-4F1A-B3A5-2E8C1D7F4A01}";
inline constexpr char InterfaceId[] = "{6B0C2E32-94D7-4F1A-B3A5-2E8C1D7F4A01}";       // _ZTbutton
inline constexpr char SourceInterfaceId[] = "{6B0C2E33-94D7-4F1A-B3A5-2E8C1D7F4A01}"; // __ZTbutton

} // namespace ztbutton
