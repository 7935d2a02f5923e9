#pragma once
// One QApplication for a whole test program (widgets and timers need it); made on first use.
class QApplication;
QApplication& TestApplication();
