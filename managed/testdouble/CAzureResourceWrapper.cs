// The test double of the managed wrapper: every method records its arguments and behaves
// as TestControl scripts it. Build variants leave out the base class (NO_BASE_CLASS) or
// the derived class (NO_DERIVED_CLASS), make the constructor throw (CTOR_THROWS), or make
// the wrapper a class of its own with the contract's method names (FOREIGN_WRAPPER).
using System;
using System.Threading;

namespace CloudSDKWrapper
{
#if NO_BASE_CLASS
    public class CAzureResourceWrapper { }
#elif FOREIGN_WRAPPER
    public class CAzureResourceWrapper
    {
        public bool Connect(string strIn1, string strIn2, string strIn3) { return true; }
        public bool CheckConnection() { return true; }
        public string GetLastErrorString() { return "foreign"; }
    }
#elif !NO_DERIVED_CLASS
    public class CAzureResourceWrapper : CCloudWrapper
    {
        private const string Bool = "true";
        private const string TextList = "texts:";
        private const string AccountList = "accounts:";

        public CAzureResourceWrapper()
        {
#if CTOR_THROWS
            throw new InvalidOperationException("constructor fails by design");
#else
            Interlocked.Increment(ref TestControl.LiveWrappers);
#endif
        }

        ~CAzureResourceWrapper() { Interlocked.Decrement(ref TestControl.LiveWrappers); }

        private static object Run(string method, object[] args, string defaultResult)
        {
            Exception toThrow;
            object result = TestControl.Run(method, args, defaultResult, out toThrow);
            if (toThrow != null) throw toThrow;
            return result;
        }

        // For methods with by-reference parameters: the caller copies them back before
        // the scripted exception is raised.
        private static object Run(string method, object[] args, string defaultResult, out Exception toThrow)
        {
            return TestControl.Run(method, args, defaultResult, out toThrow);
        }

        private static void Raise(Exception e) { if (e != null) throw e; }

        // ---- Setup and connection
        public override bool Initialize(string strIn1, string strIn2, ulong ullIn)
        { return (bool)Run("Initialize", new object[] { strIn1, strIn2, ullIn }, Bool); }
        public override bool Connect(string strIn1, string strIn2, string strIn3)
        { return (bool)Run("Connect", new object[] { strIn1, strIn2, strIn3 }, Bool); }
        public override void SetWebProxy(string strIn1, string strIn2, string strIn3)
        { Run("SetWebProxy", new object[] { strIn1, strIn2, strIn3 }, "null"); }
        public override void UseStdout() { Run("UseStdout", new object[0], "null"); }
        public override void Disconnect() { Run("Disconnect", new object[0], "null"); }
        public override bool CheckConnection() { return (bool)Run("CheckConnection", new object[0], Bool); }
        public override string GetLastErrorString()
        { return (string)Run("GetLastErrorString", new object[0], "string:no error"); }
        public override void setAssemblyResolverDisabled(bool bDisabled)
        { Run("setAssemblyResolverDisabled", new object[] { bDisabled }, "null"); }
        public override bool getAssemblyResolverDisabled()
        { return (bool)Run("getAssemblyResolverDisabled", new object[0], Bool); }

        // ---- Account and catalogue browsing
        public override object GetDatabaseAccountInfoList(string strIn, long llBrowseType, int nReserved)
        { return Run("GetDatabaseAccountInfoList", new object[] { strIn, llBrowseType, nReserved }, AccountList); }
        public override object GetDatabaseAccountInfoListForRegion(string strIn, long llBrowseType, int nReserved)
        { return Run("GetDatabaseAccountInfoListForRegion", new object[] { strIn, llBrowseType, nReserved }, AccountList); }
        public override bool GetCosmosDBAuthenticationInfo(string strIn, ref string strOut1, ref string strOut2)
        {
            var a = new object[] { strIn, strOut1, strOut2 };
            Exception e;
            var r = Run("GetCosmosDBAuthenticationInfo", a, Bool, out e);
            strOut1 = (string)a[1]; strOut2 = (string)a[2];
            Raise(e);
            return (bool)r;
        }
        public override object ListCosmosDBDatabases(string strIn1, string strIn2, bool bOption)
        { return Run("ListCosmosDBDatabases", new object[] { strIn1, strIn2, bOption }, TextList); }
        public override object ListCosmosDBContainers(string strIn1, string strIn2, string strIn3, bool bOption)
        { return Run("ListCosmosDBContainers", new object[] { strIn1, strIn2, strIn3, bOption }, TextList); }

        // ---- Container reads for backup
        public override bool OpenCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4)
        { return (bool)Run("OpenCosmosDBContainer", new object[] { strIn1, strIn2, bOption, strIn3, strIn4 }, Bool); }
        public override bool DescribeCosmosDBContainer(ref string strOut1, ref int nValue1, ref int nValue2,
                                                       ref int nValue3, ref int nValue4, ref string strOut2)
        {
            var a = new object[] { strOut1, nValue1, nValue2, nValue3, nValue4, strOut2 };
            Exception e;
            var r = Run("DescribeCosmosDBContainer", a, Bool, out e);
            strOut1 = (string)a[0]; nValue1 = (int)a[1]; nValue2 = (int)a[2]; nValue3 = (int)a[3];
            nValue4 = (int)a[4]; strOut2 = (string)a[5];
            Raise(e);
            return (bool)r;
        }
        public override bool CountItems(ref long llCount)
        {
            var a = new object[] { llCount };
            Exception e;
            var r = Run("CountItems", a, Bool, out e);
            llCount = (long)a[0];
            Raise(e);
            return (bool)r;
        }
        public override bool ObtainContainerStatistics(ref long llOut1, ref long llOut2, ref string strOut)
        {
            var a = new object[] { llOut1, llOut2, strOut };
            Exception e;
            var r = Run("ObtainContainerStatistics", a, Bool, out e);
            llOut1 = (long)a[0]; llOut2 = (long)a[1]; strOut = (string)a[2];
            Raise(e);
            return (bool)r;
        }
        public override bool IsEmpty(ref bool bEmpty)
        {
            var a = new object[] { bEmpty };
            Exception e;
            var r = Run("IsEmpty", a, Bool, out e);
            bEmpty = (bool)a[0];
            Raise(e);
            return (bool)r;
        }
        public override object GetCosmosDBTokens(long llIn)
        { return Run("GetCosmosDBTokens", new object[] { llIn }, TextList); }
        public override object GetCosmosDBData(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut)
        {
            var a = new object[] { strIn, llIn, strOut, bSuccess, bOut };
            Exception e;
            var r = Run("GetCosmosDBData", a, TextList, out e);
            strOut = (string)a[2]; bSuccess = (bool)a[3]; bOut = (bool)a[4];
            Raise(e);
            return r;
        }
        public override object GetCosmosDBPage(string strIn, long llIn, ref string strOut, ref bool bSuccess, ref bool bOut)
        {
            var a = new object[] { strIn, llIn, strOut, bSuccess, bOut };
            Exception e;
            var r = Run("GetCosmosDBPage", a, "page:", out e);
            strOut = (string)a[2]; bSuccess = (bool)a[3]; bOut = (bool)a[4];
            Raise(e);
            return r;
        }
        public override bool BackupAttachedScripts(bool bOption, ref int nOut, ref string strOut)
        {
            var a = new object[] { bOption, nOut, strOut };
            Exception e;
            var r = Run("BackupAttachedScripts", a, Bool, out e);
            nOut = (int)a[1]; strOut = (string)a[2];
            Raise(e);
            return (bool)r;
        }

        // ---- Restore and administration
        public override bool CreateCosmosDBDatabase(string strIn1, string strIn2, bool bOption1, string strIn3,
                                                    int nIn1, int nIn2, bool bOption2)
        {
            return (bool)Run("CreateCosmosDBDatabase",
                             new object[] { strIn1, strIn2, bOption1, strIn3, nIn1, nIn2, bOption2 }, Bool);
        }
        public override bool CreateCosmosDBContainer(string strIn1, string strIn2, bool bOption1, string strIn3,
                                                     string strIn4, string strIn5, ref int nValue1, ref int nValue2,
                                                     bool bOption2)
        {
            var a = new object[] { strIn1, strIn2, bOption1, strIn3, strIn4, strIn5, nValue1, nValue2, bOption2 };
            Exception e;
            var r = Run("CreateCosmosDBContainer", a, Bool, out e);
            nValue1 = (int)a[6]; nValue2 = (int)a[7];
            Raise(e);
            return (bool)r;
        }
        public override bool RemoveCosmosDBContainer(string strIn1, string strIn2, bool bOption, string strIn3, string strIn4)
        { return (bool)Run("RemoveCosmosDBContainer", new object[] { strIn1, strIn2, bOption, strIn3, strIn4 }, Bool); }
        public override bool StartCosmosDBRestore(int nIn, string strIn)
        { return (bool)Run("StartCosmosDBRestore", new object[] { nIn, strIn }, Bool); }
        public override bool AddCosmosDBRestoreItems(object items)
        {
            var list = items as SStringLibList;
            var texts = new System.Text.StringBuilder();
            if (list != null)
                for (int i = 0; i < list.Items.Count; i++)
                    texts.Append(i > 0 ? "|" : "").Append(list.Items[i].strValue);
            return (bool)Run("AddCosmosDBRestoreItems",
                             new object[] { items == null ? null : texts.ToString(), list == null ? -1 : list.AddCalls }, Bool);
        }
        public override bool AddCosmosDBRestoreItem(string strItem)
        { return (bool)Run("AddCosmosDBRestoreItem", new object[] { strItem }, Bool); }
        public override bool FlushCosmosDBRestore() { return (bool)Run("FlushCosmosDBRestore", new object[0], Bool); }
        public override bool RestoreAttachedScripts(string strIn, bool bOption)
        { return (bool)Run("RestoreAttachedScripts", new object[] { strIn, bOption }, Bool); }
        public override bool RemoveAllTriggers() { return (bool)Run("RemoveAllTriggers", new object[0], Bool); }
        public override bool ChangeCosmosDBThroughput(int nIn1, int nIn2, ref int nOut)
        {
            var a = new object[] { nIn1, nIn2, nOut };
            Exception e;
            var r = Run("ChangeCosmosDBThroughput", a, Bool, out e);
            nOut = (int)a[2];
            Raise(e);
            return (bool)r;
        }
    }
#endif
}
