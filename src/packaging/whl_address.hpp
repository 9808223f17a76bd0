#pragma once
// Email addresses in METADATA's Author-Email and Maintainer-Email headers, which readers split
// with `email.utils.getaddresses`: one address per person, whatever the name holds.

#include <string>
#include <string_view>

namespace quorvex::whl {

/// Whether `email` is an address (RFC 5322 addr-spec) that Python's `email.headerregistry`
/// accepts as written: an ASCII dot-atom or quoted local part, "@", and a dot-atom or bracketed
/// domain; no blanks or comments around the parts.
bool isAddressSpec(std::string_view email);

/// `email` with the display name `name` ("Ada <ada@x.org>"), the name quoted, with its "\" and
/// '"' escaped, when it holds an address special such as "," or "." (`"Doe, John" <j@x.org>`),
/// as `email.headerregistry.Address` writes it; `email` alone when `name` is empty.
std::string mailbox(std::string_view name, std::string_view email);

} // namespace quorvex::whl
