#include "detector/detector.h"
#include "grabber/usb_frm01.h"

namespace n47 {

void Detector::openDevice() {
  const int openResult = OpenDAQDevice();
  // The channels are initialised whatever the device answered.
  LVDS_Init();
  UART_Init();
  LVDS_SetModel(0);
  if (openResult == -1) {
    interfaceOk = 0;
    return;
  }
  interfaceOk = 1;
  LVDS_Start();
}

void Detector::closeDevice() {
  LVDS_Close();
  UART_Close();
  CloseDAQDevice();
}

}  // namespace n47
