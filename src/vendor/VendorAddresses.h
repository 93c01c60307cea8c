#pragma once
// The three addresses on the vendor's web server; the host comes from the build
// (QUILLORY_VENDOR_HOST, a host name optionally followed by :port).
#ifndef QUILLORY_VENDOR_HOST
#error "QUILLORY_VENDOR_HOST must name the vendor's web server"
#endif

inline constexpr char16_t AdPageUrl[] = u"http://" QUILLORY_VENDOR_HOST "/ad/201072713_1.html";
inline constexpr char HomePageUrl[] = "http://" QUILLORY_VENDOR_HOST "/201071913.html";
inline constexpr char UpdateInfoUrl[] = "http://" QUILLORY_VENDOR_HOST "/SiteBack/updateTxt/13.txt";
