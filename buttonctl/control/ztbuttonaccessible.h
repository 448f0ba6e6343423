#pragma once

// Makes screen readers see every ZTbutton as a push button named by its caption, with its own
// Enabled as its state and a press action that does what Enter does. Once per process is enough;
// later calls do nothing.
void installButtonAccessibility();
