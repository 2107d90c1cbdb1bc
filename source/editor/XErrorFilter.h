#pragma once

// X errors on the framework's own connection to the display. Inside a plug-in the framework opens
// a connection of its own and installs no X error handler, while Xlib has one handler for the whole
// process: the host's. GTK's ends the process, so a request of ours about a window that was
// destroyed a moment earlier (the framework asks about the focused window on every focus change)
// would end the host.
namespace XErrorFilter
{
// Message thread, or a thread holding the message loop (the plug-in's client makes the editor on
// the host's thread so); called as a window opens. From then until the framework shuts down in this
// library, errors on the framework's own connection are ignored and errors on any other
// connection go to the handler that was there before. At shutdown that handler is put back,
// unless another has replaced ours meanwhile: then that one stays, and this library is kept
// loaded, since the newer handler may still pass errors on to ours.
void install();
} // namespace XErrorFilter
