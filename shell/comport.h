#pragma once
// The COM link as the protocol sees it: the window's serial component Comm1.

#include "protocol/transport.h"

#include <memory>

class TComm;

std::unique_ptr<ISerialPort> MakeCommPort(TComm& comm);
