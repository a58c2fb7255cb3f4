#pragma once

// Who the program is: the one place its product word, its maker's site, its installer's name and
// its version are known. Plain C++ without Qt, so the server and the release tools may use it too.

// The words, kept as literals so that the addresses below are joined at compile time.
#define PIPSHIFT_PRODUCT_WORD "pipshift"
#define PIPSHIFT_MAKER_SITE "www.quorvel.example"
#define PIPSHIFT_INSTALLER_FILE "pshsetup.exe"

namespace product {

// The lower-case product word: the settings file and its section, the tally file, the
// single-instance name and the words in the server paths.
inline constexpr char word[] = PIPSHIFT_PRODUCT_WORD;
// The maker's site, as the About window's link shows it (the link puts "http://" in front).
inline constexpr char makersite[] = PIPSHIFT_MAKER_SITE;
// The maker's site as a server base address: the score and update server unless the settings name
// another.
inline constexpr char makerurl[] = "http://" PIPSHIFT_MAKER_SITE "/";
// The installer an update downloads, starts and publishes, and the name of its signature.
inline constexpr char installerfile[] = PIPSHIFT_INSTALLER_FILE;
inline constexpr char signaturefile[] = PIPSHIFT_INSTALLER_FILE ".sig";
// The published version text's file name: product word + "version.txt".
inline constexpr char versionfile[] = PIPSHIFT_PRODUCT_WORD "version.txt";
// The signed release manifest beside it: product word + "release.txt".
inline constexpr char releasefile[] = PIPSHIFT_PRODUCT_WORD "release.txt";

}  // namespace product

// The program's version, "1.0.0" for the build's own; the build sets it. Defined in a unit of its
// own that each program links, so two programs differing only in their version share everything
// else.
const char* programversion();
