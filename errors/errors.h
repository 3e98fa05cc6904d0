// The error registry: every fault, alarm and warning is an error number 0..27 with a
// record (box colour, title, detail, what raising it asks for), and the reset key's
// handling with the amplifier's protection recovery.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "errors/errors_state.h"

namespace corvid {

struct Works;

// Fills the records with the error table (the detail of ExtIoPortOpen is the SerPort
// setting).
void initErrorTable(Works& works);
void setErrorDetail(Works& works, Err error, std::string_view detail);
ErrorInfo errorInfo(const Works& works, Err error);
// The listed errors, oldest first.
std::vector<Err> listedErrors(const Works& works);

void AddErrore(Works& works, Err error);
void DeleteErrore(Works& works, Err error);
int ExistError(const Works& works, Err error);        // 1 when listed
std::optional<Err> ExistAnError(const Works& works);  // the oldest listed error
std::optional<Err> newestError(const Works& works);
// An alarm or warning of a sensor that is still too hot: only cooling ends it, the reset
// key does not.
bool isOverTemperature(Err error);

void VerifyWarningTemporanei(Works& works);
void VerifyWarningTemporaneiDopoResetBias(Works& works);
int VerifyError(const Works& works);

// The reset key: 1 when it handled errors.
int GPIO_Errori(Works& works);
void GestErrore(Works& works);
void GestErroreRemote(Works& works);
void ResetBiasCmd(Works& works);
void VerificaEsistonoErrori(Works& works);
void GestErroreSerial(Works& works);
void ClearDisplayError(Works& works);

}  // namespace corvid
