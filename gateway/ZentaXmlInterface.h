#pragma once
// The gateway's XML documents: three requests written with AsString, three answers read with
// LoadFromString, and the two routines that log in and then send one batch or ask for its reports.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/DateTime.h"

namespace velmora::gateway {

// Request "LOGIN".
class TLogin {
public:
    TLogin();

    const std::string& Version() const { return FVersion; }
    void SetVersion(std::string value) { FVersion = std::move(value); }
    const std::string& Password() const { return FPassword; }
    void SetPassword(std::string value) { FPassword = std::move(value); }
    const std::string& UserName() const { return FUserName; }
    void SetUserName(std::string value) { FUserName = std::move(value); }

    std::string AsString() const;

private:
    std::string FVersion;
    std::string FPassword;
    std::string FUserName;
};

// Answer to "LOGIN".
class TLoginResult {
public:
    int32_t ReturnCode() const { return FReturnCode; }
    const std::string& Token() const { return FToken; }
    const std::string& Explanation() const { return FExplanation; }

    // False when the answer is not XML or lacks a value; what was read before the failure stays. Never throws.
    bool LoadFromString(const std::string& AResponse);

private:
    int32_t FReturnCode = 0;
    std::string FToken;
    std::string FExplanation;
};

// One recipient of a "SENDSMS".
class TTargetSMS {
public:
    const std::string& MessageText() const { return FMessageText; }
    void SetMessageText(std::string value) { FMessageText = std::move(value); }
    const std::string& ExternalId() const { return FExternalId; }
    void SetExternalId(std::string value) { FExternalId = std::move(value); }
    const std::string& TargetAddress() const { return FTargetAddress; }
    void SetTargetAddress(std::string value) { FTargetAddress = std::move(value); }
    // Kept with the recipient; never written into the document.
    const std::string& Variables() const { return FVariables; }
    void SetVariables(std::string value) { FVariables = std::move(value); }

private:
    std::string FMessageText;
    std::string FExternalId;
    std::string FTargetAddress;
    std::string FVariables;
};

using TTargetSMSList = std::vector<std::unique_ptr<TTargetSMS>>;

// Request "SENDSMS".
class TSendSMS {
public:
    explicit TSendSMS(bool AIsOneToN);
    virtual ~TSendSMS() = default;
    TSendSMS(const TSendSMS&) = delete;
    TSendSMS& operator=(const TSendSMS&) = delete;

    const TTargetSMSList& TargetAddressList() const { return FTargetAddressList; }
    TTargetSMSList& TargetAddressList() { return FTargetAddressList; }
    const std::string& MessageText() const { return FMessageText; }
    void SetMessageText(std::string value) { FMessageText = std::move(value); }
    const std::string& CampaignGroup() const { return FCampaignGroup; }
    void SetCampaignGroup(std::string value) { FCampaignGroup = std::move(value); }
    TDateTime PlannedSendingDate() const { return FPlannedSendingDate; }
    void SetPlannedSendingDate(TDateTime value) { FPlannedSendingDate = value; }
    const std::string& Token() const { return FToken; }
    void SetToken(std::string value) { FToken = std::move(value); }
    bool IsOneToN() const { return FIsOneToN; }
    const std::string& JobId() const { return FJobId; }
    void SetJobId(std::string value) { FJobId = std::move(value); }

    // In a one-to-many request the recipient keeps no text of its own: the request's MessageText travels once.
    TTargetSMS& AddSMSItem(std::string ATargetAddress, std::string AExternalId, std::string AMessageText,
                           std::string AVariables);

    // Throws EConvertError only when PlannedSendingDate is not a representable date-time.
    std::string AsString() const;
    // The same text in a string with the room to become its SOAP envelope where it lies (sending a batch of
    // 100,000 never holds the document and the envelope at once).
    std::string AsStringWithEnvelopeRoom() const;

private:
    std::string Write(bool envelopeRoom) const;

    TTargetSMSList FTargetAddressList;
    std::string FMessageText;
    std::string FCampaignGroup;
    TDateTime FPlannedSendingDate;
    std::string FToken;
    bool FIsOneToN;
    std::string FJobId;
};

// One entry of the send answer.
class TSendSMSResponseItem {
public:
    const std::string& ExternalId() const { return FExternalId; }
    void SetExternalId(std::string value) { FExternalId = std::move(value); }
    const std::string& ReturnValue() const { return FReturnValue; }
    void SetReturnValue(std::string value) { FReturnValue = std::move(value); }
    // Negative when the gateway refused the message.
    int32_t MessageId() const { return FMessageId; }
    void SetMessageId(int32_t value) { FMessageId = value; }

private:
    std::string FExternalId;
    std::string FReturnValue;
    int32_t FMessageId = 0;
};

using TSendSMSResponseList = std::vector<std::unique_ptr<TSendSMSResponseItem>>;

// Answer to "SENDSMS".
class TSendSMSResponse {
public:
    TSendSMSResponse() = default;
    virtual ~TSendSMSResponse() = default;
    TSendSMSResponse(const TSendSMSResponse&) = delete;
    TSendSMSResponse& operator=(const TSendSMSResponse&) = delete;

    const TSendSMSResponseList& ResponseList() const { return FResponseList; }
    TSendSMSResponseList& ResponseList() { return FResponseList; }
    int32_t ResponseCode() const { return FResponseCode; }

    // Appends the answered entries; see TLoginResult::LoadFromString for failures.
    bool LoadFromString(const std::string& AResponse);
    bool LoadFromString(std::string&& AResponse);  // parses in the text itself, which it uses up

private:
    TSendSMSResponseList FResponseList;
    int32_t FResponseCode = 0;
};

// One entry of a "GETREPORT".
class TReportRequestItem {
public:
    const std::string& ExternalId() const { return FExternalId; }
    void SetExternalId(std::string value) { FExternalId = std::move(value); }
    int32_t MessageId() const { return FMessageId; }
    void SetMessageId(int32_t value) { FMessageId = value; }

private:
    std::string FExternalId;
    int32_t FMessageId = 0;
};

using TReportRequestList = std::vector<std::unique_ptr<TReportRequestItem>>;

// Request "GETREPORT".
class TGetReport {
public:
    TGetReport();
    virtual ~TGetReport() = default;
    TGetReport(const TGetReport&) = delete;
    TGetReport& operator=(const TGetReport&) = delete;

    const std::string& Version() const { return FVersion; }
    void SetVersion(std::string value) { FVersion = std::move(value); }
    const TReportRequestList& ReportRequestList() const { return FReportRequestList; }
    TReportRequestList& ReportRequestList() { return FReportRequestList; }
    const std::string& Token() const { return FToken; }
    void SetToken(std::string value) { FToken = std::move(value); }
    const std::string& JobId() const { return FJobId; }
    void SetJobId(std::string value) { FJobId = std::move(value); }

    TReportRequestItem& AddRequest(int32_t AMessageId, std::string AExternalId);

    std::string AsString() const;
    std::string AsStringWithEnvelopeRoom() const;  // as TSendSMS's

private:
    std::string Write(bool envelopeRoom) const;

    std::string FVersion;
    TReportRequestList FReportRequestList;
    std::string FToken;
    std::string FJobId;
};

// One entry of the report answer.
class TReportResponseItem {
public:
    const std::string& ExternalId() const { return FExternalId; }
    void SetExternalId(std::string value) { FExternalId = std::move(value); }
    // Kept exactly as received.
    const std::string& SentDate() const { return FSentDate; }
    void SetSentDate(std::string value) { FSentDate = std::move(value); }
    const std::string& Status() const { return FStatus; }
    void SetStatus(std::string value) { FStatus = std::move(value); }
    int32_t MessageId() const { return FMessageId; }
    void SetMessageId(int32_t value) { FMessageId = value; }
    bool ShouldRetry() const { return FShouldRetry; }
    void SetShouldRetry(bool value) { FShouldRetry = value; }
    const std::string& ErrorCode() const { return FErrorCode; }
    void SetErrorCode(std::string value) { FErrorCode = std::move(value); }
    const std::string& ErrorMessage() const { return FErrorMessage; }
    void SetErrorMessage(std::string value) { FErrorMessage = std::move(value); }

private:
    std::string FExternalId;
    std::string FSentDate;
    std::string FStatus;
    int32_t FMessageId = 0;
    bool FShouldRetry = false;
    std::string FErrorCode;
    std::string FErrorMessage;
};

using TReportResponseItemList = std::vector<std::unique_ptr<TReportResponseItem>>;

// Answer to "GETREPORT".
class TReportResponse {
public:
    TReportResponse() = default;
    virtual ~TReportResponse() = default;
    TReportResponse(const TReportResponse&) = delete;
    TReportResponse& operator=(const TReportResponse&) = delete;

    const TReportResponseItemList& ReportResponseItemList() const { return FReportResponseItemList; }
    TReportResponseItemList& ReportResponseItemList() { return FReportResponseItemList; }
    int32_t ReportStatus() const { return FReportStatus; }
    // Never filled from the document.
    const std::string& JobId() const { return FJobId; }
    void SetJobId(std::string value) { FJobId = std::move(value); }
    const std::string& Explanation() const { return FExplanation; }

    // Appends the answered entries; see TLoginResult::LoadFromString for failures.
    bool LoadFromString(const std::string& AResponse);
    bool LoadFromString(std::string&& AResponse);  // parses in the text itself, which it uses up

private:
    TReportResponseItemList FReportResponseItemList;
    int32_t FReportStatus = 0;
    std::string FJobId;
    std::string FExplanation;
};

// Logs in, then posts the batch with the login's token, the job id and the campaign group and reads the
// answer into AResponse. False only when the gateway refused the login (negative RTCD); nothing is sent then.
// True means an answer came back; whether the batch was taken is in AResponse.ResponseCode().
// Transport failures and SOAP faults propagate as EHttpError / ESoapFault.
bool SendSMSWithLogin(const std::string& AUserName, const std::string& APassword,
                      const std::string& ACampaignGroup, const std::string& AJobId, TSendSMS& ASendSMS,
                      TSendSMSResponse& AResponse);

// The same for delivery reports: logs in, then one "Report" call with AGetReport.
bool GetReportWithLogin(const std::string& AUserName, const std::string& APassword, const std::string& AJobId,
                        TGetReport& AGetReport, TReportResponse& AResponse);

} // namespace velmora::gateway
