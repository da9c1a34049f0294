// An address cut into the pieces a request needs. Plain text operations, no
// address grammar: "https://" is recognised at the start, "http://" anywhere,
// and an address without either is taken as http. Pure; any thread.
#pragma once

#include <cstdint>

#include "text/text.h"

// The lower-cased host: the text between the scheme and the next "/". With
// keepLastTwoLabels not 0 only its last two dot-separated labels; with keepPort
// not 0 a ":port" after it stays.
[[nodiscard]] Text urlHost(const Text& url, std::int32_t keepLastTwoLabels = 0,
                           std::int32_t keepPort = 0);
// The number after the host's last ":" (0 without digits); else 443 for an
// address that starts with "https" in any case, 80 otherwise.
[[nodiscard]] std::int32_t urlPort(const Text& url);
// From the first "/" at or after where the host occurs in the address to the
// end, query included, as written; "/" when there is none.
[[nodiscard]] Text urlPath(const Text& url);
