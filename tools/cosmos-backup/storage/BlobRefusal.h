#pragma once

#include "storage/BlobCredentials.h"
#include "storage/BlobLocation.h"
#include "storage/HttpClient.h"

#include <string>

namespace cosmosbackup {

// Why the Blob service refused a request, in words that say what to do: from the answer's error
// code (x-ms-error-code, else the body's <Code>) and, for a failed authentication, its detail
// (a clock that is off, a SAS token outside its validity, a key that does not sign right).
// Never holds a credential or a signature: details that quote the request's signature are
// replaced by what they mean.
std::string DescribeRefusal(const HttpResponse& response, const BlobLocation& location, const BlobCredentials& credentials);

// The error code of a refusal ("" when it carries none).
std::string ErrorCodeOf(const HttpResponse& response);

}  // namespace cosmosbackup
