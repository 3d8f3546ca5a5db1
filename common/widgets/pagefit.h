#pragma once

class QStackedWidget;

// A page stack normally asks for the size of its largest page, so the wizard would open as wide as the
// selection page. This makes the stack ask only for its current page's size and lets the window follow
// whenever the page changes.
void fitStackToCurrentPage(QStackedWidget* stack);
