// Connects to the X display, leaves, and connects again at once, as a
// program does that first checks the display and then opens its own
// connection; a server that drops the second connection fails the run.
//   xvfb_client_pairs [PAIRS]

#include <cstdio>
#include <cstdlib>
#include <xcb/xcb.h>

namespace {

bool ConnectAndLeave()
{
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool connected = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);  // also frees a failed connection
    return connected;
}

}  // namespace

int main(int argc, char** argv)
{
    const int pairs = argc > 1 ? std::atoi(argv[1]) : 50;
    int refused = 0;
    for (int pair = 0; pair < pairs; ++pair)
        if (!ConnectAndLeave() || !ConnectAndLeave())
            ++refused;
    std::printf("%d of %d connection pairs refused\n", refused, pairs);
    return refused == 0 ? 0 : 1;
}
