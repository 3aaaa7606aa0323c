// The tray program: the agent's notification-area companion.

#include "tray/tray_app.h"

int main() { return tallow::run_tray_app(); }
