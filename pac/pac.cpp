#include "pac/pac.h"

namespace pac {

Evaluation FindProxyForUrl(std::string_view, std::string_view, std::string_view, int) {
    Evaluation evaluation;
    evaluation.detail = "no script engine";
    return evaluation;
}

}  // namespace pac
