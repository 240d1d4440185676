// The paper a new printer loads by default, from the server's locale.
//
// Only a few countries print on US Letter; everywhere else, and in the C or POSIX locale
// (a server started without a locale), the default is A4.
#pragma once

namespace inkrow::app {

// "na_letter_8.5x11in" when the locale's territory uses Letter (the United States,
// Canada, Mexico, the Philippines, Puerto Rico and most of Central America, Colombia,
// Chile, Venezuela), else "iso_a4_210x297mm". The locale is the first set and non-empty
// of LC_ALL, LC_PAPER and LANG, as the C library chooses it; its territory is the part
// after '_' in language_TERRITORY.codeset@modifier.
const char* PaperSizeForLocale(const char* (*getenv)(const char* name));

}  // namespace inkrow::app
