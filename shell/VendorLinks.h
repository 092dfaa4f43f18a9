// The addresses the program opens: the web site, the download page (the
// main menu's updates option) and the support address. The one place to
// change them.
#pragma once

#include <string>

namespace shell {

inline constexpr const char* WebSiteAddress = "https://tranquo.example/";
inline constexpr const char* DownloadPageAddress = "https://tranquo.example/download";
inline constexpr const char* QuestionsPageAddress = "https://tranquo.example/faq";
inline constexpr const char* SupportMailAddress = "support@tranquo.example";

// A web address as people write it: without "https://" and the closing "/".
std::string ShownAddress(const char* address);

// Opens a web address (or "mailto:" + SupportMailAddress) in the user's
// browser or mail program through the shell's "open"; false when nothing
// could be started.
bool OpenAddress(const char* address);
// OpenAddress, and when nothing could be started a message (exclamation
// icon, under title) that gives the address to open by hand.
void OpenAddressOrTell(const char* address, const std::string& title);

} // namespace shell
