#include "app/shell/ProductInfo.h"

#include <cstdio>
#include <ctime>

namespace ozm {

std::string MakeCaptionFormat(std::chrono::year_month_day startupDate) {
    char date[32];
    std::snprintf(date, sizeof date, "%04d-%02u-%02u", static_cast<int>(startupDate.year()),
                  static_cast<unsigned>(startupDate.month()),
                  static_cast<unsigned>(startupDate.day()));
    return "%s v%1.1f " + std::string(date) + " - " + std::string(kMakerHomePage);
}

std::chrono::year_month_day TodayLocal() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return std::chrono::year_month_day{std::chrono::year{local.tm_year + 1900},
                                       std::chrono::month{static_cast<unsigned>(local.tm_mon + 1)},
                                       std::chrono::day{static_cast<unsigned>(local.tm_mday)}};
}

std::string FormatMainCaption(std::string_view captionFormat, std::string_view title,
                              float version) {
    std::string out(captionFormat);
    if (const std::size_t at = out.find("%s"); at != std::string::npos) {
        out.replace(at, 2, title);
    }
    if (const std::size_t at = out.find("%1.1f"); at != std::string::npos) {
        char number[32];
        std::snprintf(number, sizeof number, "%1.1f", static_cast<double>(version));
        out.replace(at, 5, number);
    }
    return out;
}

}  // namespace ozm
