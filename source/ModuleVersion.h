#pragma once
// Identity of the module as reported to applications and written to the log.

namespace Brelt::MW {

inline constexpr int kLibraryVersionMajor = 2;
inline constexpr int kLibraryVersionMinor = 30;
inline constexpr char kManufacturerId[] = "Brelt Merivalto, s.r.o.";
inline constexpr char kLibraryDescription[] = "PKCS#11 for CardOS v4.x, V5.x";

}  // namespace Brelt::MW
