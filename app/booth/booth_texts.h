// Fixed texts of the booth program that more than one window uses.
#pragma once

// The application title: window caption, message box caption and the key of
// the single-instance guard.
inline constexpr char kAppTitle[] = "Softphone Telvira";

// The version as the status bar shows it; the portal compares its digits.
inline constexpr char kProgramVersion[] = "1.164";

inline constexpr char kAlreadyRunningText[] = "¡Este programa ya se encuentra en ejecución!";
inline constexpr char kRefusedAccountText[] = "ERROR: Usuario o contraseña incorrecta.";
inline constexpr char kUpdateQuestionText[] =
    "Existe una nueva actualización para este programa, ¿desea ir al sitio de descarga?";
inline constexpr char kQuitQuestionText[] = "¿Desea salir del Softphone Telvira?";

inline constexpr char kPromptCaption[] = "Validación de Datos";
inline constexpr char kAccountPromptText[] = "Por favor ingrese el número de cuenta Telvira:";
inline constexpr char kPasswordPromptText[] = "Por favor digite la contraseña:";

// The status bar's standing line, where notes take its place for a while.
inline constexpr char kStatusLineText[] = "Telefonía por Internet - Telvira";

inline constexpr char kOnlineText[] = "En Línea";
inline constexpr char kOfflineText[] = "Desconectado";
// Sent as the SIP display name: kept in plain ASCII.
inline constexpr char kLineDisplayName[] = "Linea 1";
inline constexpr int kRegistrationExpiry = 3000;

// The first entry of each device list, standing for the system's default,
// and the word older versions stored for it.
inline constexpr char kDefaultDeviceEntry[] = "Predeterminado";
inline constexpr char kStoredDefaultDeviceEntry[] = "Default";

// The booth's state during a call.
inline constexpr char kFreeText[] = "Libre";
inline constexpr char kRingingText[] = "Timbrando";
inline constexpr char kInCallText[] = "Llamada en Curso";

// The status bar's word on the booth's connection.
inline constexpr char kValidatingText[] = "Validando la cuenta...";
inline constexpr char kPortalDownText[] = "Portal no disponible";
inline constexpr char kSipServerSilentText[] = "Servidor SIP no responde";
inline constexpr char kNoMediaText[] = "Sin audio: llamada cortada";
inline constexpr char kSpeakerLostText[] = "Altavoz desconectado";
inline constexpr char kAccountRefusedText[] = "Cuenta rechazada";

// The status bar's word on a call that has ended.
inline constexpr char kCallFinishedText[] = "Llamada finalizada";
inline constexpr char kCallNotPlacedText[] = "Llamada no realizada";
inline constexpr char kBusyText[] = "Ocupado";
inline constexpr char kNoAnswerText[] = "No contesta";
inline constexpr char kCancelledText[] = "Llamada cancelada";
inline constexpr char kInvalidNumberText[] = "Número no válido";
inline constexpr char kServerSilentText[] = "Sin respuesta del servidor";
inline constexpr char kProviderRefusedText[] = "Rechazada por el proveedor";
// The far end asked to move the call elsewhere; the booth never lets it.
inline constexpr char kTransferRefusedText[] = "Transferencia rechazada";

// Shown where the rate and the cost stand while the portal has not priced
// the call.
inline constexpr char kRateUnavailableText[] = "Tarifa no disponible";

// The closing question's first line during a call: the number and the cost
// so far (or the rate's absence).
inline constexpr char kCallRunningText[] = "Hay una llamada en curso al %1 (costo: %2).";
