// The Generate action.

#include "app/short_link.h"

#include "app/main_window.h"

namespace quenbrel {

void GenerateShortLink(MainWindow& /*window*/) {
  // The request to the short-link service is not part of the tool yet: a click changes nothing.
}

}  // namespace quenbrel
