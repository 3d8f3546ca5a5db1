#pragma once

class QStackedWidget;
class QWidget;

// A page stack normally asks for the size of its largest page, so the wizard would open as wide as the
// selection page. This makes the stack ask only for its current page's size and lets the window follow
// whenever the page changes.
void fitStackToCurrentPage(QStackedWidget* stack);

// Gives the window the size its contents ask for, up to the screen's available area (not the two thirds
// of it adjustSize() stops at, which squeezed the report), and keeps it on that screen.
void fitWindowToContents(QWidget* window);

// The same once the layouts have taken the latest changes into account.
void fitWindowSoon(QWidget* window);
