// Wrapper assemblies that do not fit the bridge, as one of another version might: the
// classes and method names of the contract, but some methods declared with other
// parameters. Each override writes every by-reference parameter it has, so that a call
// the bridge let through would show in the caller's variables. GetLastErrorString fits
// in both, so the world is otherwise usable.
//   MISFIT_WIDTHS  parameters of another width or type than the bridge passes
//   MISFIT_SHAPES  by-reference flags, parameter counts and static methods that differ
namespace CloudSDKWrapper
{
    public abstract class CCloudWrapper
    {
        public abstract string GetLastErrorString();
#if MISFIT_WIDTHS
        public abstract bool ChangeCosmosDBThroughput(int nIn1, int nIn2, ref long llOut);
        public abstract bool CountItems(ref int nCount);
        public abstract bool OpenCosmosDBContainer(string strIn1, string strIn2, int nOption, string strIn3,
                                                   string strIn4);
        public abstract bool CreateCosmosDBDatabase(string strIn1, string strIn2, bool bOption1, string strIn3,
                                                    long llIn1, int nIn2, bool bOption2);
#elif MISFIT_SHAPES
        public abstract bool AddCosmosDBRestoreItem(ref string strItem);
        public abstract bool IsEmpty(bool bEmpty);
        public abstract bool Connect(string strIn1, string strIn2, string strIn3, string strIn4);
        public abstract bool StartCosmosDBRestore(int nIn);
        public static bool CheckConnection() { return true; }
        public abstract object GetCosmosDBPage(string strIn, long llIn, ref string strOut, bool bSuccess, ref bool bOut);
#endif
    }

    public class CAzureResourceWrapper : CCloudWrapper
    {
        public override string GetLastErrorString() { return "misfit"; }
#if MISFIT_WIDTHS
        public override bool ChangeCosmosDBThroughput(int nIn1, int nIn2, ref long llOut)
        { llOut = 0x0102030405060708L; return true; }
        public override bool CountItems(ref int nCount) { nCount = 0x01020304; return true; }
        public override bool OpenCosmosDBContainer(string strIn1, string strIn2, int nOption, string strIn3,
                                                   string strIn4)
        { return true; }
        public override bool CreateCosmosDBDatabase(string strIn1, string strIn2, bool bOption1, string strIn3,
                                                    long llIn1, int nIn2, bool bOption2)
        { return true; }
#elif MISFIT_SHAPES
        public override bool AddCosmosDBRestoreItem(ref string strItem) { strItem = "overwritten"; return true; }
        public override bool IsEmpty(bool bEmpty) { return true; }
        public override bool Connect(string strIn1, string strIn2, string strIn3, string strIn4)
        { return strIn4.Length > 0; }
        public override bool StartCosmosDBRestore(int nIn) { return true; }
        public override object GetCosmosDBPage(string strIn, long llIn, ref string strOut, bool bSuccess, ref bool bOut)
        { strOut = "overwritten"; bOut = true; return new byte[] { 1, 0, 0, 0, 0, 0, 0, 0, 10 }; }
#endif
    }
}
