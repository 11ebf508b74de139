// The managed side of the native bridge: every method the bridge calls by name.
//
// The bridge looks each method up by name on this class and runs the override of the
// object's own class (CAzureResourceWrapper). Parameter widths are binding: the bridge
// passes bool as 8 bits, int as 32, long/ulong as 64, and `ref` parameters as the address
// of the native caller's own variable (or of a local it converts afterwards).
//
// List results are objects that the assembly's enumerator classes can walk
// ("SStringListEnumerator" for texts, "SStorageAccountInfoLibListEnumerator" for accounts);
// null means failure. AddCosmosDBRestoreItems receives a list made by
// CCloudWrapperFactory.CreateSStringLibList and filled with SStringLib elements.
namespace CloudSDKWrapper
{
#if !NO_BASE_CLASS
    public abstract class CCloudWrapper
    {
        // Setup and connection
        public abstract bool Initialize(string strIn1, string strIn2, ulong ullIn);
        public abstract bool Connect(string strIn1, string strIn2, string strIn3);
        public abstract void SetWebProxy(string strIn1, string strIn2, string strIn3);
        public abstract void UseStdout();
        public abstract void Disconnect();
        public abstract bool CheckConnection();
        public abstract string GetLastErrorString();
        public abstract void setAssemblyResolverDisabled(bool bDisabled);
        public abstract bool getAssemblyResolverDisabled();

        // Account and catalogue browsing
        public abstract object GetDatabaseAccountInfoList(string strIn, long llBrowseType, int nReserved);
        public abstract object GetDatabaseAccountInfoListForRegion(string strIn, long llBrowseType, int nReserved);
        public abstract bool GetCosmosDBAuthenticationInfo(string strIn, ref string strOut1, ref string strOut2);
        public abstract object ListCosmosDBDatabases(string strIn1, string strIn2, bool bOption);
        public abstract object ListCosmosDBContainers(string strIn1, string strIn2, string strIn3, bool bOption);

        // Container reads for backup
        public abstract bool OpenCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4);
        public abstract bool DescribeCosmosDBContainer(ref string strOut1, ref int nValue1, ref int nValue2,
                                                       ref int nValue3, ref int nValue4, ref string strOut2);
        public abstract bool CountItems(ref long llCount);
        public abstract bool ObtainContainerStatistics(ref long llOut1, ref long llOut2, ref string strOut);
        public abstract bool IsEmpty(ref bool bEmpty);
        public abstract object GetCosmosDBTokens(long llIn);
        public abstract object GetCosmosDBData(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut);
        public abstract bool BackupAttachedScripts(bool bOption, ref int nOut, ref string strOut);
        // The same read as GetCosmosDBData, the page as one UTF-8 byte array (ItemPageBytes).
        public abstract object GetCosmosDBPage(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut);

        // Restore and administration
        public abstract bool CreateCosmosDBDatabase(string strIn1, string strIn2, bool bOption1, string strIn3,
                                                    int nIn1, int nIn2, bool bOption2);
        public abstract bool CreateCosmosDBContainer(string strIn1, string strIn2, bool bOption1, string strIn3,
                                                     string strIn4, string strIn5, ref int nValue1, ref int nValue2,
                                                     bool bOption2);
        public abstract bool RemoveCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4);
        public abstract bool StartCosmosDBRestore(int nIn, string strIn);
        public abstract bool AddCosmosDBRestoreItems(object items);
        public abstract bool AddCosmosDBRestoreItem(string strItem);
        public abstract bool FlushCosmosDBRestore();
        public abstract bool RestoreAttachedScripts(string strIn, bool bOption);
        public abstract bool RemoveAllTriggers();
        public abstract bool ChangeCosmosDBThroughput(int nIn1, int nIn2, ref int nOut);
    }
#endif
}
