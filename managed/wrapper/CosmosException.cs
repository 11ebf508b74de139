// A failed service call, with the text that GetLastErrorString reports. Its message is built
// from the status, the operation and the service's own message, never from request headers,
// so it cannot carry the account key.
using System;

namespace CloudSDKWrapper
{
    public sealed class CosmosException : Exception
    {
        public int StatusCode { get; private set; }
        // The service's x-ms-substatus (0 when none or not from an answer).
        public int SubStatusCode { get; private set; }
        // The request itself was refused as too long (its headers past the service's limit):
        // never the fault of an item it carries.
        public bool RequestTooLong { get; set; }

        public CosmosException(int statusCode, string message) : this(statusCode, 0, message) { }

        public CosmosException(int statusCode, int subStatusCode, string message) : base(message)
        {
            StatusCode = statusCode;
            SubStatusCode = subStatusCode;
        }
    }
}
