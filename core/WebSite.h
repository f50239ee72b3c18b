// The maker's web site: the product page and the version documents.
#pragma once

inline constexpr char kWebSiteHost[] = "www.tavlo.se";
inline constexpr char kProductPageUrl[] = "http://www.tavlo.se/quendel/en";
