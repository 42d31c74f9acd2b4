// A seam for tests and benchmarks of the Generate action: the service host for this process.
//
// The tool itself posts to the build-time ServiceHost (app/service_settings.h) and never calls
// this. Tests run their own services on free ports, so they point the action at one of them.
//
// Threading: call on the window's thread, between clicks.

#ifndef QUENBREL_APP_SHORT_LINK_TESTING_H_
#define QUENBREL_APP_SHORT_LINK_TESTING_H_

#include <string_view>

namespace quenbrel {

// From now on ShortLinkEndpoint uses host ("127.0.0.1:port") in place of ServiceHost; an empty
// host restores ServiceHost.
void SetServiceHostForTesting(std::string_view host);

}  // namespace quenbrel

#endif  // QUENBREL_APP_SHORT_LINK_TESTING_H_
