#pragma once
// How the window program presents itself to the desktop: its name, the desktop entry its windows
// belong to, and its icon. It sets no display name: the window system would append that to every
// title bar, and each window's title is its own caption.

class QApplication;

void SetUpApplication(QApplication& app);
