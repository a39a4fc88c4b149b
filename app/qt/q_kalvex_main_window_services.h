// The main window's question to the desktop, answerable by tests: whether there is a tray
// to hide into. A window minimised into a tray that does not exist could never be brought
// back, so it is hidden only where one is (its icon is shown only there too).
#pragma once

// QSystemTrayIcon::isSystemTrayAvailable(), unless a test answers instead.
bool trayAvailable();
// A test's answer (null: the platform's again).
void setTrayAvailableAnswer(bool (*answer)());
