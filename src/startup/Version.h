// The version the program reports in titles and banners.
#pragma once

namespace brm {
constexpr const wchar_t* kVersion = L"2.0.33";
constexpr const wchar_t* kVersionBanner = L"Brindlemar v2.0.33";
}  // namespace brm
